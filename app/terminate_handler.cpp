// What happens to an exception that nothing catches, in vornick.exe.
//
// The standard library's default handler writes the exception's type to the
// standard error stream before it aborts, and to name the type it brings a
// demangler and a formatted-output library into the program: about 75 KB,
// nearly a third of the file. A GUI program has no standard error stream to
// write to, so this handler only aborts, as the default one does after its
// text. The program catches no exception: one that escapes (the memory is
// exhausted) ends it either way. The test programs keep the default handler.
#include <stdlib.h>

#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() { abort(); }

}  // namespace __gnu_cxx
