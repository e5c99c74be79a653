// The C++ face between the manager and its utilities library compiles on its own, without Qt.
#include "tvk_mgr_view.h"

#include <type_traits>

static_assert(std::is_abstract_v<MgrPluginView>, "the manager implements the view");
static_assert(!std::is_abstract_v<MgrUiHooks>, "the hooks do nothing by default");
