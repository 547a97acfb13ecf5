// libmdb's header, which includes glib inside its extern "C" block: glib goes first.
#pragma once

#include <glib.h>
#include <mdbtools.h>
