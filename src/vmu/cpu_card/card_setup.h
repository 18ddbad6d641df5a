// What the software card that runs the sender holds: a copy of a card image
// with the sender installed in its game slot, the list the sender will show,
// and the buttons a user would press to send one file of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "card/card_image.h"
#include "vmu/cpu_card/cpu_card.h"

/// The sender's own name in the copy's directory.
inline constexpr char CPU_CARD_SENDER_NAME[] = "VMURX_SENDER";

/// Puts `sender` into the game slot of `card`, a copy the caller owns (the
/// user's file is never touched). A game already there moves aside: it stays
/// a game, elsewhere on the card, and is sent like any file. Data files in
/// the way move up, into the blocks a standard card leaves unused if need
/// be. False with the reason when it does not fit.
bool cpu_card_install(card_image& card, std::span<const std::uint8_t> sender, std::string& reason);

/// The files the sender lists, in its order: the directory's data files and
/// games by slot, the game at block 0 (the sender itself) left out.
std::vector<card_file> cpu_card_listed(const card_image& card);

/// The position in that list of `file`, an entry as it was before the sender
/// was installed: a data file by its slot, which the install keeps (a card
/// may hold several files of one name); a game by its name among the games,
/// as the install moves it to a new slot and a card holds one game. False
/// when it is not listed.
bool cpu_card_list_index(const card_image& card, const card_file& file, std::size_t& index);

/// A blank card as the console formats it, holding the built-in sample save
/// as VMURX_DEMO.
card_image cpu_card_sample_card();

/// The sender's speed, chosen on its list with Left or Right: FAST holds the
/// levels the PC's echo cannot confirm 20 µs, SAFE 250 µs.
enum class cpu_card_speed { fast, safe };

/// The presses that send list entry `index`: Down `index` times, Right for
/// SAFE, then A, each held 100 ms, with time for the sender to start and to
/// redraw.
std::vector<cpu_card_press> cpu_card_choose(std::size_t index,
                                            cpu_card_speed speed = cpu_card_speed::fast);

/// The card's time by which the presses of cpu_card_choose(index, speed) are
/// over and the sender waits for the PC.
double cpu_card_chosen_ms(std::size_t index, cpu_card_speed speed = cpu_card_speed::fast);
