#include "transport/context.h"

namespace zorv {

Context::Context(DevicePort& p, UserInterface& u, Clock& c, MessageSink& pane)
    : port(&p), ui(&u), clock(&c), pane_(&pane) {}

}  // namespace zorv
