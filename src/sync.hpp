// Discovery with the real backends and the sync loop together, for the callers that use both.
#pragma once

#include "backend_probes.hpp"
#include "discovery.hpp"
#include "keep_synced.hpp"
