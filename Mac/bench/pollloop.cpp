// The baseline of the agent's footprint benchmark: a program that only waits in poll() and
// wakes once a second, as the agent's tick does.
#include <poll.h>

int main() {
  for (;;) poll(nullptr, 0, 1000);
}
