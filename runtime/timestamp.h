#pragma once

#include <iosfwd>

// Writes the local time as "%d/%m %H:%M:%S" (nothing when the time cannot be had).
std::ostream& timestamp(std::ostream& os);
