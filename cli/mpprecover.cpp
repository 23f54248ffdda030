#include "mdwdll.h"
int main() { return GetDllVersion() == 2 ? 0 : 1; }
