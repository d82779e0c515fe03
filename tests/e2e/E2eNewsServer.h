#pragma once

// The posting benchmarks' name for the real news server on loopback.

#include "support/NewsServer.h"

using E2eNewsServer = NewsServer;
