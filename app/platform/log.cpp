#include "platform/log.hpp"

// Debug lines (the first frame's time) only when asked for:
// QT_LOGGING_RULES="quorin.kiosk.debug=true".
Q_LOGGING_CATEGORY(lcKiosk, "quorin.kiosk", QtInfoMsg)
