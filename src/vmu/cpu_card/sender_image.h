// The card-side sender as the build assembled it (card/), built into the
// programs that run it on the processor model, so that they need no file.
#pragma once

#include <cstdint>
#include <span>

/// The bytes of vmurx-sender.vms.
std::span<const std::uint8_t> vmu_sender_image();
