// The hashing pipelines: each turns the text in a holder into the hex digest
// of one byte sequence and leaves that hex text in the holder (form 0, code
// page 0, 32 lowercase digits), whatever form and code page it had before.
#pragma once

#include <cstdio>

#include "digest/digest.h"
#include "text/xlstr.h"

// The text in the system's ANSI code page.
void HashMultiByte(xlstr& text, CDigest& digest);
// The text as UTF-16LE.
void HashWideChar(xlstr& text, CDigest& digest);
// The text as UTF-8.
void HashUtf8(xlstr& text, CDigest& digest);
// The contents of the file the text names. False when the file could not be
// opened; the holder then holds the digest of no input.
bool HashFile(xlstr& path, CDigest& digest);
// Feeds a whole open stream to the digest and closes it; false for null.
bool DigestStream(std::FILE* stream, CDigest& digest);
