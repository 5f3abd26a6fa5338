#pragma once
// The recorder's string table (ids 101 to 113, see ResourceIds.h).
// Any thread.

#include <QString>

// The string with this id, or an empty string for an unknown id.
QString LoadString(int id);
