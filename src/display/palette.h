#pragma once
// The game's colours, 0xAARRGGBB, written once: the screens, the drawing
// primitives and the brick marks take theirs from here, and so do the tools
// that picture the game and the tests that look for it on screen.
#include <cstdint>

// The screens.
constexpr std::uint32_t kBackground = 0xff05070e;  // the whole drawing area
constexpr std::uint32_t kFrameCyan = 0xff2ac8e8;   // the playfield frame, the boxes' borders
constexpr std::uint32_t kBoxFill = 0xff101828;     // inside the pause and game-over boxes
constexpr std::uint32_t kWhite = 0xffffffff;       // the score, the balls, capsule letters
constexpr std::uint32_t kYellow = 0xffffe81f;      // the best score, the title word
constexpr std::uint32_t kCyan = 0xff00dae8;        // the level, the title line, the pause title
constexpr std::uint32_t kGrey = 0xff8898a8;        // the help texts and labels
constexpr std::uint32_t kAmber = 0xffffb347;       // timers, the exit hint, the launch prompt
// The paddle's guns and the game-over title; not the red brick's colour.
constexpr std::uint32_t kSignalRed = 0xffe85050;
constexpr std::uint32_t kPaddleTeal = 0xff37e8d8;  // the paddle and the lives left
constexpr std::uint32_t kCapsuleRed = 0xffd84848;
constexpr std::uint32_t kShotRed = 0xffff4040;

// The bricks, one colour a kind, and the marks some of them carry.
constexpr std::uint32_t kBrickRed = 0xffe84040;
constexpr std::uint32_t kBrickOrange = 0xffe88a2a;
constexpr std::uint32_t kBrickYellow = 0xffe8d82a;
constexpr std::uint32_t kBrickGreen = 0xff3ad84a;
constexpr std::uint32_t kBrickBlue = 0xff3a6ae8;
constexpr std::uint32_t kBrickViolet = 0xff9a4ae8;
constexpr std::uint32_t kBrickSilver = 0xffb8c0c8;
constexpr std::uint32_t kBrickGold = 0xffc8a428;
constexpr std::uint32_t kRivet = 0xff806414;   // the four rivets of a gold brick
constexpr std::uint32_t kStripe = 0xff8890a0;  // down a brick that needs two more hits

// The logo is tinted a cold white.
constexpr std::uint32_t kLogoTint = 0xffe8f0ff;
