// The game family: create, refresh, query, fetch items, release.
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "abi/conventions.h"
#include "abi/handles.h"
#include "abi/operation.h"
#include "hosts/platform.h"
#include "index/carrier_format.h"

using vesmara::abi::MessageBuffer;
using vesmara::abi::Status;

namespace {

using vesmara::carrier::kMaxExternalInput;

Status refresh(vkr_preview_game* game, std::optional<std::span<const std::uint8_t>> external,
               std::uint32_t allow_rollback, MessageBuffer& message, std::string_view boundary) {
  return vesmara::abi::runContained(message, boundary, [&]() -> Status {
    vesmara::Failure failure;
    if (game->refresh(external, allow_rollback == 1, failure)) return VKR_PREVIEW_OK;
    message.write(failure.message);
    return vesmara::abi::statusForFailure(failure.kind, game->transport().isCancelled());
  });
}

Status refreshHosted(vkr_preview_game* game, std::uint32_t allow_rollback, MessageBuffer& message) {
  if (game == nullptr || allow_rollback > 1 || !message.usable()) return VKR_PREVIEW_INVALID_ARGUMENT;
  return refresh(game, std::nullopt, allow_rollback, message, "Native game refresh failed");
}

Status refreshExternal(vkr_preview_game* game, const std::uint8_t* external, std::uint64_t external_length,
                       std::uint32_t allow_rollback, MessageBuffer& message) {
  if (game == nullptr || external == nullptr || external_length < 1 || external_length > kMaxExternalInput ||
      allow_rollback > 1 || !message.usable()) {
    return VKR_PREVIEW_INVALID_ARGUMENT;
  }
  return refresh(game, std::span<const std::uint8_t>(external, static_cast<std::size_t>(external_length)),
                 allow_rollback, message, "Native external game refresh failed");
}

Status fetchItem(vkr_preview_game* game, const char* item_id, std::uint64_t item_id_length,
                 const std::uint8_t* member_key, std::uint64_t member_key_length, const char* destination,
                 std::uint64_t destination_length, std::uint64_t* out_written, MessageBuffer& message) {
  if (out_written != nullptr) *out_written = 0;
  if (game == nullptr || out_written == nullptr ||
      !vesmara::abi::isTextArgument(item_id, item_id_length, vesmara::abi::kGameTextLimit) ||
      !vesmara::abi::isTextArgument(destination, destination_length, vesmara::abi::kDestinationLimit) ||
      !message.usable() || !vesmara::abi::isValidMemberKey(member_key, member_key_length)) {
    return VKR_PREVIEW_INVALID_ARGUMENT;
  }
  if (!game->snapshot().verified) return VKR_PREVIEW_WRONG_STATE;
  return vesmara::abi::runContained(message, "Native game item fetch failed", [&]() -> Status {
    const std::optional<vesmara::SecretKey> key = vesmara::abi::copyMemberKey(member_key);
    vesmara::DownloadFailure failure;
    if (!game->fetchItem(std::string_view(item_id, item_id_length), key ? &*key : nullptr,
                         std::string_view(destination, destination_length), *out_written, failure)) {
      message.write(failure.failure.message);
      return vesmara::abi::statusForDownloadFailure(failure.failure.kind, game->transport().isCancelled(),
                                                    failure.output_error);
    }
    return VKR_PREVIEW_OK;
  });
}

}  // namespace

extern "C" {

VKR_PREVIEW_API Status vkr_preview_game_create(const char* origin, uint64_t origin_length, const char* game_id,
                                               uint64_t game_id_length, const char* game_version,
                                               uint64_t game_version_length, vkr_preview_game** out_game, char* message,
                                               uint64_t message_capacity) {
  if (out_game != nullptr) *out_game = nullptr;
  MessageBuffer buffer(message, message_capacity);
  if (out_game == nullptr || !vesmara::abi::isTextArgument(origin, origin_length, vesmara::abi::kOriginLimit) ||
      !vesmara::abi::isTextArgument(game_id, game_id_length, vesmara::abi::kGameTextLimit) ||
      !vesmara::abi::isTextArgument(game_version, game_version_length, vesmara::abi::kGameTextLimit) ||
      !buffer.usable()) {
    return VKR_PREVIEW_INVALID_ARGUMENT;
  }
  return vesmara::abi::runContained(buffer, "Native game creation failed", [&]() -> Status {
    std::string refusal;
    auto transport = vesmara::defaultPlatform().makeHttpHost(std::string_view(origin, origin_length), refusal);
    if (transport == nullptr) {
      buffer.write(refusal);
      return VKR_PREVIEW_INVALID_ARGUMENT;
    }
    *out_game = new vkr_preview_game(vesmara::defaultPlatform(), std::move(transport),
                                     std::string_view(game_id, game_id_length),
                                     std::string_view(game_version, game_version_length));
    return VKR_PREVIEW_OK;
  });
}

VKR_PREVIEW_API Status vkr_preview_game_refresh_hosted(vkr_preview_game* game, uint32_t allow_rollback, char* message,
                                                       uint64_t message_capacity) {
  return vesmara::abi::callExclusive(game, [&]() -> Status {
    MessageBuffer buffer(message, message_capacity);
    return refreshHosted(game, allow_rollback, buffer);
  });
}

VKR_PREVIEW_API Status vkr_preview_game_refresh_hosted_operation(vkr_preview_game* game,
                                                                 vkr_preview_operation* operation,
                                                                 uint32_t allow_rollback, char* message,
                                                                 uint64_t message_capacity) {
  return vesmara::abi::callUnderOperation(
      game, operation, nullptr, message, message_capacity,
      [&](MessageBuffer& buffer) { return refreshHosted(game, allow_rollback, buffer); });
}

VKR_PREVIEW_API Status vkr_preview_game_refresh_external(vkr_preview_game* game, const uint8_t* external,
                                                         uint64_t external_length, uint32_t allow_rollback,
                                                         char* message, uint64_t message_capacity) {
  return vesmara::abi::callExclusive(game, [&]() -> Status {
    MessageBuffer buffer(message, message_capacity);
    return refreshExternal(game, external, external_length, allow_rollback, buffer);
  });
}

VKR_PREVIEW_API Status vkr_preview_game_refresh_external_operation(vkr_preview_game* game,
                                                                   vkr_preview_operation* operation,
                                                                   const uint8_t* external, uint64_t external_length,
                                                                   uint32_t allow_rollback, char* message,
                                                                   uint64_t message_capacity) {
  return vesmara::abi::callUnderOperation(
      game, operation, nullptr, message, message_capacity,
      [&](MessageBuffer& buffer) { return refreshExternal(game, external, external_length, allow_rollback, buffer); });
}

VKR_PREVIEW_API Status vkr_preview_game_catalogue_revision(vkr_preview_game* game, uint64_t* out_revision) {
  return vesmara::abi::callExclusive(game, [&]() -> Status {
    if (out_revision != nullptr) *out_revision = 0;
    if (game == nullptr || out_revision == nullptr) return VKR_PREVIEW_INVALID_ARGUMENT;
    if (!game->snapshot().verified) return VKR_PREVIEW_WRONG_STATE;
    *out_revision = game->snapshot().catalogue.revision;
    return VKR_PREVIEW_OK;
  });
}

VKR_PREVIEW_API Status vkr_preview_game_index_digest(vkr_preview_game* game, char* buffer, uint64_t capacity,
                                                     uint64_t* out_length) {
  return vesmara::abi::callExclusive(game, [&]() -> Status {
    if (out_length != nullptr) *out_length = 0;
    if (game == nullptr) return VKR_PREVIEW_INVALID_ARGUMENT;
    if (!game->snapshot().verified) return VKR_PREVIEW_WRONG_STATE;
    if (out_length == nullptr || (capacity != 0 && buffer == nullptr)) return VKR_PREVIEW_INVALID_ARGUMENT;
    return vesmara::abi::deliverString(game->snapshot().index.digest, buffer, capacity, out_length);
  });
}

VKR_PREVIEW_API Status vkr_preview_game_item_count(vkr_preview_game* game, uint64_t* out_count) {
  return vesmara::abi::callExclusive(game, [&]() -> Status {
    if (out_count != nullptr) *out_count = 0;
    if (game == nullptr || out_count == nullptr) return VKR_PREVIEW_INVALID_ARGUMENT;
    if (!game->snapshot().verified) return VKR_PREVIEW_WRONG_STATE;
    *out_count = game->snapshot().catalogue.items.size();
    return VKR_PREVIEW_OK;
  });
}

VKR_PREVIEW_API Status vkr_preview_game_item_string(vkr_preview_game* game, uint64_t index, uint32_t field,
                                                    char* buffer, uint64_t capacity, uint64_t* out_length) {
  return vesmara::abi::callExclusive(game, [&]() -> Status {
    if (out_length == nullptr) return VKR_PREVIEW_INVALID_ARGUMENT;
    *out_length = 0;
    if (game == nullptr || (capacity != 0 && buffer == nullptr)) return VKR_PREVIEW_INVALID_ARGUMENT;
    if (!game->snapshot().verified) return VKR_PREVIEW_WRONG_STATE;
    const auto& items = game->snapshot().catalogue.items;
    if (index >= items.size()) return VKR_PREVIEW_INVALID_ARGUMENT;
    const std::optional<std::string_view> text = items[index].field(field);
    if (!text) return VKR_PREVIEW_INVALID_ARGUMENT;
    return vesmara::abi::deliverString(*text, buffer, capacity, out_length);
  });
}

VKR_PREVIEW_API Status vkr_preview_game_fetch_item(vkr_preview_game* game, const char* item_id, uint64_t item_id_length,
                                                   const uint8_t* member_key, uint64_t member_key_length,
                                                   const char* destination, uint64_t destination_length,
                                                   uint64_t* out_written, char* message, uint64_t message_capacity) {
  return vesmara::abi::callExclusive(game, [&]() -> Status {
    MessageBuffer buffer(message, message_capacity);
    return fetchItem(game, item_id, item_id_length, member_key, member_key_length, destination, destination_length,
                     out_written, buffer);
  });
}

VKR_PREVIEW_API Status vkr_preview_game_fetch_item_operation(vkr_preview_game* game, vkr_preview_operation* operation,
                                                             const char* item_id, uint64_t item_id_length,
                                                             const uint8_t* member_key, uint64_t member_key_length,
                                                             const char* destination, uint64_t destination_length,
                                                             uint64_t* out_written, char* message,
                                                             uint64_t message_capacity) {
  return vesmara::abi::callUnderOperation(
      game, operation, out_written, message, message_capacity, [&](MessageBuffer& buffer) {
        return fetchItem(game, item_id, item_id_length, member_key, member_key_length, destination, destination_length,
                         out_written, buffer);
      });
}

VKR_PREVIEW_API void vkr_preview_game_cancel(vkr_preview_game* game) {
  if (game != nullptr) game->transport().cancel();
}

VKR_PREVIEW_API void vkr_preview_game_release(vkr_preview_game* game) { delete game; }

}  // extern "C"
