// A library whose debug information the tests write beside it.
extern "C" __declspec(dllexport) __attribute__((noinline)) int ProbeOne(int x) { return x + 1; }
extern "C" __declspec(dllexport) __attribute__((noinline)) int ProbeTwo(int x) { return x * 3 + ProbeOne(x); }
