/* What widl's generated proxies and stubs need to catch the exceptions that
 * the RPC runtime raises (a call on a disconnected object, a marshalling
 * failure) and turn them into HRESULTs: a frame registered on the thread's
 * exception chain, and a jump back to the frame's setjmp point. Built on
 * the C runtime's setjmp/longjmp and RtlUnwind, so that the library needs
 * nothing beyond Windows itself. On 64-bit Windows the chain does not
 * exist; there the frames are not registered and an RPC exception passes
 * on to the caller. */
#ifndef QOR_PROXY_EXCEPTION_H
#define QOR_PROXY_EXCEPTION_H

#include <windows.h>
#include <setjmp.h>

typedef jmp_buf __wine_jmp_buf;

/* Exception record flags the handlers test. */
#ifndef EH_UNWINDING
#define EH_NONCONTINUABLE 0x01
#define EH_UNWINDING 0x02
#define EH_EXIT_UNWIND 0x04
#define EH_STACK_INVALID 0x08
#define EH_NESTED_CALL 0x10
#endif

#define __wine_setjmpex(buf, frame) setjmp(*(buf))
#define __wine_longjmp(buf, value) longjmp(*(buf), (value))

#if defined(__i386__)

static inline EXCEPTION_REGISTRATION_RECORD *__wine_get_frame(void)
{
    return (EXCEPTION_REGISTRATION_RECORD *)((NT_TIB *)NtCurrentTeb())->ExceptionList;
}

static inline EXCEPTION_REGISTRATION_RECORD *__wine_push_frame(EXCEPTION_REGISTRATION_RECORD *frame)
{
    frame->Next = __wine_get_frame();
    ((NT_TIB *)NtCurrentTeb())->ExceptionList = (struct _EXCEPTION_REGISTRATION_RECORD *)frame;
    return frame->Next;
}

static inline EXCEPTION_REGISTRATION_RECORD *__wine_pop_frame(EXCEPTION_REGISTRATION_RECORD *frame)
{
    ((NT_TIB *)NtCurrentTeb())->ExceptionList = (struct _EXCEPTION_REGISTRATION_RECORD *)frame->Next;
    return frame->Next;
}

/* Runs the handlers of the frames above frame, then target, which jumps to
 * the frame's setjmp point. */
static inline void __wine_rtl_unwind(EXCEPTION_REGISTRATION_RECORD *frame, EXCEPTION_RECORD *record,
                                     void (*target)(void))
{
    RtlUnwind(frame, 0, record, 0);
    target();
}

#else

static inline EXCEPTION_REGISTRATION_RECORD *__wine_get_frame(void) { return 0; }
static inline EXCEPTION_REGISTRATION_RECORD *__wine_push_frame(EXCEPTION_REGISTRATION_RECORD *frame) { return 0; }
static inline EXCEPTION_REGISTRATION_RECORD *__wine_pop_frame(EXCEPTION_REGISTRATION_RECORD *frame) { return 0; }
static inline void __wine_rtl_unwind(EXCEPTION_REGISTRATION_RECORD *frame, EXCEPTION_RECORD *record,
                                     void (*target)(void))
{
    target();
}

#endif

#endif
