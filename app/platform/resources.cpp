#include "platform/resources.hpp"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initQuorinResources() {
  Q_INIT_RESOURCE(resources);
  Q_INIT_RESOURCE(sounds);
}

namespace quorin {

void initResources() { initQuorinResources(); }

}  // namespace quorin
