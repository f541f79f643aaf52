/* A module that exists for its resources. */
__declspec(dllexport) int KxResourceOnly(void) { return 0; }
