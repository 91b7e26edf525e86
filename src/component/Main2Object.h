// Main2Object puts the _Main2 interface around Main2: IDispatch from the type
// library, with the arguments of a script or a compiled caller laid out the
// way the methods take them.
#pragma once

#include <unknwn.h>

namespace tamberlux {

// A new Main2 object with one reference; the first in a thread runs the
// component's start-up.
IUnknown* CreateMain2Object();

}  // namespace tamberlux
