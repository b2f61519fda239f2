#include "tiles/tile_store.h"
