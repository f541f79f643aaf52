"""Every way the crash lab dies, as a table: how it is started and what must
follow. Data only, so that another driver (a crash corpus built from the
installed package) can take the rows over as they are.

Each row:
  name, args    the crash lab's scenario and its options
  exit          the whole 32-bit exit code: the operating-system exception's
                code when the program ends of one, 3 (as the C runtime's
                abnormal termination) for C++ exceptions and run-time errors,
                0 when the program goes on
  cls, msg      the report's exception class and a regular expression its
                message must match fully; cls None: no report at all
  top           a function that the crashed thread's section names within
                its first three lines (None: the chain cannot show it)
  thread        how the crashed thread's section is titled ("main thread" or
                "thread")
  goes_on       the program prints "continued" (it went on after the crash)
  context       the report has the CPU registers and the stack dump of a
                processor fault
  off_exit      the exit code of the same program without the library, when
                it means something under Wine (None: not compared)
  sections      sections whose lines must be exactly these
  header        header items with exactly these values
  system        the report carries the full header of a machine and a
                process (SYSTEM_HEADER, in this order, each value matching)
                and the "modules", "processes" and "hardware" sections
"""
from dataclasses import dataclass, field

AV = 0xC0000005
STACK_OVERFLOW = 0xC00000FD
RUNTIME_ERROR = 3


@dataclass
class Scenario:
    name: str
    args: list = field(default_factory=list)
    exit: int = RUNTIME_ERROR
    cls: str = None
    msg: str = None
    top: str = None
    thread: str = "main thread"
    goes_on: bool = False
    context: bool = False
    off_exit: int = None
    sections: dict = field(default_factory=dict)
    header: dict = field(default_factory=dict)
    system: bool = False

    def label(self):
        return " ".join([self.name] + self.args)


# The header items a report of the crash lab has, in their order, each with
# the regular expression its whole value matches. "processor" stands for
# either form ("processor" or "processors"); items marked optional are left
# out where the system has no value (a fresh Wine prefix has no registered
# owner).
SYSTEM_HEADER = [
    ("date/time", r"\d{4}-\d\d-\d\d, \d\d:\d\d:\d\d, \d+ms"),
    ("computer name", r".+"),
    ("user name", r".+"),
    ("registered owner", r".+", "optional"),
    ("operating system", r"Windows [A-Za-z0-9 .-]+ build \d+"),
    ("system language", r"[A-Za-z ()]+"),
    ("system up time", r"\d+ (day|hour|minute|second)s?( \d+ (hour|minute|second)s?)?"),
    ("program up time", r"\d+ milliseconds|\d+ (hour|minute|second)s?( \d+ (minute|second)s?)?"),
    ("processor", r"(\d+x )?\S.*"),
    ("physical memory", r"\d+/\d+ MB \(free/total\)"),
    ("free disk space", r"\([A-Z]:\) \d+[.,]\d\d [KMG]B( \([A-Z]:\) \d+[.,]\d\d [KMG]B)?"),
    ("display mode", r"\d+x\d+, \d+ bit"),
    ("process id", r"\$[1-9a-f][0-9a-f]*"),
    ("allocated memory", r"\d+[.,]\d\d [KMG]B"),
    ("command line", r".*crashlab\.exe.*"),
    ("executable", r"crashlab\.exe"),
    ("exec. date/time", r"\d{4}-\d\d-\d\d \d\d:\d\d"),
    ("compiled with", r"GCC \d+\.\d+\.\d+( \(.+\))?, mingw-w64 \d+\.\d+, 32-bit"),
    ("Kestrix version", r"3\.0e"),
]

AV_READ_10 = r"Access violation at address \$[0-9a-f]+ in module 'crashlab\.exe'\. Read of address \$10\."

SCENARIOS = [
    # A call through a null function pointer cannot be unwound: reported from
    # a fresh stack, the caller named under the top line at address 0. Its
    # report is also checked for the full header and the system lists.
    Scenario("null-call", exit=AV, cls="EAccessViolation", msg=r"Access Violation\.", top="NullCall",
             context=True, off_exit=AV, system=True),
    Scenario("null-call", ["--thread"], exit=AV, cls="EAccessViolation", msg=r"Access Violation\.", top="NullCall",
             thread="thread", context=True, off_exit=AV),
    # The system's heap code deals with a double free itself (under Wine):
    # nothing to report, the program goes on as it does alone.
    Scenario("double-free", exit=0, goes_on=True, off_exit=0),
    # Stack overflow: thrown on where the stack's reserve leaves room to
    # unwind; the recursion is the call stack.
    Scenario("stack-overflow", exit=STACK_OVERFLOW, cls="EStackOverflow", msg=r"Stack overflow\.", top="Recurse",
             context=True),
    Scenario("stack-overflow", ["--thread"], exit=0, cls="EStackOverflow", msg=r"Stack overflow\.", top="Recurse",
             thread="thread", goes_on=True, context=True),
    Scenario("stack-overflow", ["--raw-thread"], exit=0, cls="EStackOverflow", msg=r"Stack overflow\.",
             top="Recurse", thread="thread", goes_on=True, context=True),
    # Twice in a click handler: the guard is back after the first, the second
    # is the same crash counted.
    Scenario("stack-overflow", ["--clicks", "2"], exit=0, cls="EStackOverflow", msg=r"Stack overflow\.",
             top="Recurse", goes_on=True, context=True, header={"count": "2"}),
    # In code without unwind information: reported from a fresh stack.
    Scenario("stack-overflow-raw", exit=STACK_OVERFLOW, cls="EStackOverflow", msg=r"Stack overflow\.",
             top="LabRecurseRaw", context=True),
    # With the static runtime the vtable slot is the library's, not address 0.
    Scenario("pure-virtual", cls="KxException", msg=r"Pure virtual function call\.", top="Describe",
             off_exit=RUNTIME_ERROR),
    Scenario("crt-abort", cls="KxException", msg=r"Abnormal program termination: abort\(\) was called\.",
             top="CallAbort", off_exit=RUNTIME_ERROR),
    Scenario("terminate", cls="KxException",
             msg=r"Abnormal program termination: std::terminate\(\) was called without an active exception\.",
             top="CallTerminate", off_exit=RUNTIME_ERROR),
    Scenario("terminate-active", cls="ELabError", msg=r"Lab error raised on purpose\.", top="ThrowLabError",
             off_exit=RUNTIME_ERROR),
    # The C runtime lets the call fail with EINVAL; the settings let the
    # program go on.
    Scenario("invalid-parameter", exit=0, cls="KxException",
             msg=r"Invalid parameter passed to a C runtime function.*\.", top="InvalidParameter", goes_on=True,
             off_exit=0),
    Scenario("new-fails", cls="bad_alloc", msg=r"Out of memory\.", off_exit=RUNTIME_ERROR),
    # A fast fail ends the process at once by design: no handler runs.
    Scenario("fast-fail", exit=0xC0000409, off_exit=0xC0000409),
    Scenario("breakpoint", exit=0x80000003, cls="EBreakpoint", msg=r"Breakpoint\.", top="Breakpoint", context=True,
             off_exit=0x80000003),
    Scenario("illegal-instruction", exit=0xC000001D, cls="EIllegalInstruction", msg=r"Illegal instruction\.",
             top="IllegalInstruction", context=True, off_exit=0xC000001D),
    Scenario("privileged-instruction", exit=0xC0000096, cls="EPrivilege", msg=r"Privileged instruction\.",
             top="PrivilegedInstruction", context=True, off_exit=0xC0000096),
    # The same fault has the same class in a library module.
    Scenario("dll-fault", exit=AV, cls="EAccessViolation",
             msg=r"Access violation at address \$[0-9a-f]+ in module 'crashlab_dll\.dll'\. Read of address \$44\.",
             top="LabDllFault", context=True, off_exit=AV),
    Scenario("dll-throw", cls="ELabDllError",
             msg=r"C\+\+ exception ELabDllError left module 'crashlab_dll\.dll', which has a C\+\+ runtime of its "
                 r"own: Lab DLL error raised on purpose\.",
             top="LabDllThrow", off_exit=RUNTIME_ERROR),
    # The program sets a filter of its own after start-up; the library's is
    # set again before the exception is unhandled.
    Scenario("filter-overwritten", exit=0xE0004321, cls="EExternalException", msg=r"External exception e0004321\.",
             top="FilterOverwritten", context=True, off_exit=0xE0004321),
    # A second fault while the first is unwound (a destructor; the unwinder on
    # a broken frame chain): the first is reported, the process ends.
    Scenario("fault-in-unwinding", ["--click"], exit=AV, cls="EAccessViolation", msg=AV_READ_10, top="ReadViolation",
             context=True, off_exit=AV),
    Scenario("broken-frames", ["--click"], exit=AV, cls="EAccessViolation", msg=AV_READ_10, top="ReadViolation",
             context=True, off_exit=AV),
    # A report plug-in calling nowhere in the library's own thread: the report
    # is saved with that section marked, the process ends.
    Scenario("plugin-null-call", ["--click"], cls="ELabError", msg=r"Lab error raised on purpose\.",
             top="ThrowLabError", sections={"labplugin:": [">> not computed: the library's thread failed at it"]}),
    # A handler run in the main thread calling nowhere, while the main thread
    # is busy with the library's handling: no second round, the first's
    # report is saved.
    Scenario("main-handler-null-call", ["--thread"], cls="ELabError", msg=r"Lab error raised on purpose\.",
             top="ThrowLabError", thread="thread"),
    # A handler that recurses without end overflows the handling thread's
    # stack; that is thrown on and swallowed like any failing handler.
    Scenario("handler-recursion", ["--click"], exit=0, cls="ELabError", msg=r"Lab error raised on purpose\.",
             top="ThrowLabError", goes_on=True),
]
