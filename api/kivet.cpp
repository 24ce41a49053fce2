// The version numbers of the exported interface. A session id begins with
// the two printed one after the other ("091").
#include "api/kivet.h"

namespace vemra_kivet {

unsigned GetMainVersion() { return 0; }

unsigned GetSubVersion() { return 91; }

}  // namespace vemra_kivet
