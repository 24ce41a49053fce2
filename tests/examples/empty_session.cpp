// empty_session: writes a session without songs, which kivet-session itself
// never writes, for its tests.
//
//   empty_session SIMCONFIG SESSION
#include <cstdio>
#include <exception>

#include "api/held.h"
#include "api/kivet.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: empty_session SIMCONFIG SESSION\n");
    return 2;
  }
  try {
    const vemra_kivet::Held<vemra_kivet::vraISession> session(vemra_kivet::CreateSession(argv[1], true));
    session->saveSession(argv[2]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "empty_session: %s\n", e.what());
    return 1;
  }
  return 0;
}
