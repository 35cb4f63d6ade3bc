// The objects behind the opaque handles of the C interface.
#ifndef VESMARA_ABI_HANDLES_H_
#define VESMARA_ABI_HANDLES_H_

#include "game/catalogue.h"

struct vkr_preview_catalogue {
  vesmara::Catalogue catalogue;
};

#endif  // VESMARA_ABI_HANDLES_H_
