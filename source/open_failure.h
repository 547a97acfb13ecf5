// Why a database did not open, in the words the user reads on the line after "Cannot open the
// database FILE.". The job, the wizard and the engine's linked tables say it alike.
#pragma once

#include <string>

#include "source/com_error.h"

// "a password is needed (give it with /PASSWORD=)", "the password is wrong", "not an Access
// database", "damaged: ..." or the system's reason ("No such file or directory").
std::string openFailureReason(const ComError& error);
