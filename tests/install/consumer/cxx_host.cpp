// The header from C++: what a C++ host of the installed package sees.
#include <mdwdll.h>

#include <cstdio>
#include <string>

int main() {
  char16_t extensions[8] = {};
  GetSupportedExtensions(extensions);
  const bool ok = std::u16string(extensions) == u"*.mpp" && GetDllVersion() > 0 && MDW_ERR_CANCELLED == -1000;
  std::printf("c++ host: interface %d, %s\n", static_cast<int>(GetDllVersion()), ok ? "ok" : "wrong");
  return ok ? 0 : 1;
}
