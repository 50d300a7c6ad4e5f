#include <signal.h>
#include <unistd.h>

#include "VelloraCore/Protocol/NativeMessageIO.h"
#include "vellora-native-host/NativeHost.h"

// Chrome starts this program for each Native Messaging connection. Standard output carries
// only frames and standard error stays silent.
int main() {
  // A closed Chrome pipe must be a write error, not a silent death.
  ::signal(SIGPIPE, SIG_IGN);
  vellora::NativeMessageIO io(STDIN_FILENO, STDOUT_FILENO);
  vellora::NativeHost host(io);
  return host.run();
}
