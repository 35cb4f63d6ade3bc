// The objects behind the opaque handles of the C interface.
#ifndef VESMARA_ABI_HANDLES_H_
#define VESMARA_ABI_HANDLES_H_

#include "game/catalogue.h"
#include "game/game.h"
#include "retrieval/site.h"

struct vkr_preview_catalogue {
  vesmara::Catalogue catalogue;
};

struct vkr_preview_site final : vesmara::Site {
  using Site::Site;
};

struct vkr_preview_game final : vesmara::Game {
  using Game::Game;
};

#endif  // VESMARA_ABI_HANDLES_H_
