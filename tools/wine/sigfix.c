/* Preloaded into the emulated 32-bit Wine process only (run32 passes it with
 * QEMU_SET_ENV). qemu-user leaves the x86 trap number in the signal context at
 * -1, and Wine reads that number to tell an access violation from an illegal
 * instruction or a divide error: without this, a program that dereferences a
 * bad pointer is reported as having executed an illegal instruction, and its
 * own exception handlers see the wrong code. We stand between Wine's handlers
 * for SIGSEGV, SIGBUS and SIGFPE and the signal, and fill in the number the
 * processor would have given before Wine looks at it.
 *
 * The preload path names $LIB, so the 64-bit processes that the emulated one
 * starts (wineserver) find a build of this file for their own class, which is
 * empty: the kernel fills in their trap numbers itself. */
#define _GNU_SOURCE
#if defined(__i386__)
#include <dlfcn.h>
#include <signal.h>
#include <stddef.h>
#include <ucontext.h>

enum { TRAP_DIVIDE = 0, TRAP_PAGE_FAULT = 14, TRAP_FPU_ERROR = 16 };

typedef int (*sigaction_fn)(int, const struct sigaction *, struct sigaction *);

/* The handlers the program installed, by signal; written when it installs
 * them, before the signal can arrive. */
static struct sigaction installed[NSIG];

static sigaction_fn real_sigaction(void)
{
    static sigaction_fn real;
    if (!real) real = (sigaction_fn)dlsym(RTLD_NEXT, "sigaction");
    return real;
}

static int guessed_trap(int sig, const siginfo_t *info)
{
    if (sig == SIGFPE)
        return (info->si_code == FPE_INTDIV || info->si_code == FPE_INTOVF) ? TRAP_DIVIDE
                                                                            : TRAP_FPU_ERROR;
    return TRAP_PAGE_FAULT;
}

static void fixer(int sig, siginfo_t *info, void *context)
{
    ucontext_t *uc = context;
    greg_t *trap = &uc->uc_mcontext.gregs[REG_TRAPNO];
    /* A real kernel never leaves it negative; respect any value it did give. */
    if (*trap < 0 || *trap > 31) *trap = guessed_trap(sig, info);

    const struct sigaction *next = &installed[sig];
    if (next->sa_flags & SA_SIGINFO)
        next->sa_sigaction(sig, info, context);
    else if (next->sa_handler != SIG_DFL && next->sa_handler != SIG_IGN)
        next->sa_handler(sig);
}

static int is_fault(int sig) { return sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE; }

int sigaction(int sig, const struct sigaction *act, struct sigaction *old)
{
    sigaction_fn real = real_sigaction();
    if (!real || !is_fault(sig)) return real ? real(sig, act, old) : -1;

    struct sigaction previous = installed[sig];
    int result;
    if (act && act->sa_handler != SIG_DFL && act->sa_handler != SIG_IGN) {
        struct sigaction ours = *act;
        ours.sa_sigaction = fixer;
        ours.sa_flags |= SA_SIGINFO;
        installed[sig] = *act;
        result = real(sig, &ours, old);
        if (result != 0) installed[sig] = previous;
    } else {
        result = real(sig, act, old);
    }
    /* The program asks what it installed itself, not our stand-in. */
    if (result == 0 && old && (old->sa_flags & SA_SIGINFO) && old->sa_sigaction == fixer)
        *old = previous;
    return result;
}
#endif
