// Compiled only by the layering tests, with the include paths of one of the
// program's folder libraries: the header named must be found, or must not.
#include ZARK_PROBE_HEADER
