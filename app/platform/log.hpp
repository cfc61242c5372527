// The kiosk's logging category, "quorin.kiosk". Messages go to standard error by default.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcKiosk)
