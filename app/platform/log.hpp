// The kiosk's one logging category, "quorin.kiosk", for its own lines and (through the diagnostic
// sink main() installs) those of the session layer and the CSV library. To standard error.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcKiosk)
