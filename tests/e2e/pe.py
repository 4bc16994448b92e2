"""Just enough of the PE format to read a module's machine type and its
resources (binutils' objdump lists exports and imports, but does not decode
version resources or manifests)."""
import struct

RT_VERSION = 16
RT_MANIFEST = 24
FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD


class PE:
    def __init__(self, data: bytes):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections, _, _, _, optional_size, self.characteristics = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + (96 if self.magic == 0x10B else 112)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, vaddr, rawsize, rawptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), vaddr, max(vsize, rawsize), rawptr))

    def offset(self, rva):
        for _, vaddr, size, rawptr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rawptr + rva - vaddr
        raise ValueError(f"RVA {rva:#x} is in no section")

    def resources(self, type_id):
        """The data of every resource of one type, as bytes."""
        rva, size = self.directories[2]
        if not rva:
            return []
        base = self.offset(rva)

        def entries(directory):
            named, ids = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                yield name, target

        def leaves(target):
            if target & 0x80000000:
                for _, child in entries(target & 0x7FFFFFFF):
                    yield from leaves(child)
            else:
                data_rva, data_size = struct.unpack_from("<II", self.data, base + target)
                start = self.offset(data_rva)
                yield self.data[start:start + data_size]

        found = []
        for name, target in entries(0):
            if name == type_id:
                found.extend(leaves(target))
        return found


def fixed_file_info(version_resource: bytes):
    """(file version, product version) as dotted texts, from VS_FIXEDFILEINFO."""
    at = version_resource.find(struct.pack("<I", FIXED_FILE_INFO_SIGNATURE))
    if at < 0:
        raise ValueError("no VS_FIXEDFILEINFO")
    _, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIIIII", version_resource, at)

    def dotted(ms, ls):
        return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"

    return dotted(file_ms, file_ls), dotted(product_ms, product_ls)
