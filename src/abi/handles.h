// The objects behind the opaque handles of the C interface.
#ifndef VESMARA_ABI_HANDLES_H_
#define VESMARA_ABI_HANDLES_H_

#include <memory>

#include "game/catalogue.h"
#include "game/game_session.h"
#include "hosts/crypto_host.h"
#include "hosts/http_host.h"
#include "index/hosted_index.h"
#include "media/media_decoder.h"

struct vkr_preview_catalogue {
  vesmara::Catalogue catalogue;
};

// One web site: its only transport (fixed for its life), its providers and,
// once a load succeeded, its verified index.
//
// States: Prepared (no load yet), Spent (a load was attempted and did not
// succeed: only cancel and release remain), Loaded.
struct vkr_preview_site {
  std::unique_ptr<vesmara::HttpHost> transport;
  std::unique_ptr<vesmara::CryptoHost> crypto;
  std::unique_ptr<vesmara::MediaDecoder> media;
  vesmara::LoadedIndex index;  // empty until a load succeeds
  bool load_started = false;
  bool loaded = false;
};

// One game kept up to date from its site: the library's own transport for
// the game's origin, the providers, the game's identity, and the snapshot
// adopted by the last successful refresh.
struct vkr_preview_game {
  std::unique_ptr<vesmara::HttpHost> transport;
  std::unique_ptr<vesmara::CryptoHost> crypto;
  std::unique_ptr<vesmara::MediaDecoder> media;
  std::string game_id;
  std::string game_version;
  vesmara::GameSnapshot snapshot;
};

#endif  // VESMARA_ABI_HANDLES_H_
