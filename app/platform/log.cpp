#include "platform/log.hpp"

Q_LOGGING_CATEGORY(lcKiosk, "quorin.kiosk")
