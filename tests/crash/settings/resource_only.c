/* A module that exists for its resources. */
#ifndef KX_EXPORT
#define KX_EXPORT KxResourceOnly
#endif
__declspec(dllexport) int KX_EXPORT(void) { return 0; }
