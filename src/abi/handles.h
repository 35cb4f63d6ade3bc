// The objects behind the opaque handles of the C interface.
#ifndef VESMARA_ABI_HANDLES_H_
#define VESMARA_ABI_HANDLES_H_

#include <atomic>

#include "game/catalogue.h"
#include "game/game.h"
#include "retrieval/site.h"

// Read only once parsed: any number of threads may query it at once.
struct vkr_preview_catalogue {
  vesmara::Catalogue catalogue;
};

// Sites and games carry a busy flag: one call at a time may use them. A call
// from another thread while one runs is refused (see abi::callExclusive), so
// that a caller's misuse cannot corrupt the handle; cancel and release never
// take the flag.
struct vkr_preview_site final : vesmara::Site {
  using Site::Site;
  std::atomic<bool> busy{false};
};

struct vkr_preview_game final : vesmara::Game {
  using Game::Game;
  std::atomic<bool> busy{false};
};

#endif  // VESMARA_ABI_HANDLES_H_
