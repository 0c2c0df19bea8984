#include "game/stars.h"

namespace {

// Every frame each star comes this much nearer.
constexpr float kStarApproach = 0.003795f;
constexpr float kStarRetire = 0.05f;

float star_coordinate(std::int32_t draw) {
    return static_cast<float>((draw & 0x7fff) - 16384) / 16384.0f;
}

void place_star(Star& star, Rng& rng) {
    star.x = star_coordinate(random_draw(rng));
    star.y = star_coordinate(random_draw(rng));
}

}  // namespace

void place_stars(Starfield& field, Rng& rng) {
    for (Star& star : field.stars) {
        place_star(star, rng);
        star.z = 0.05f + static_cast<float>(random_draw(rng) & 0x7fff) / 32768.0f * 0.95f;
        star.placed_now = false;
    }
}

void move_stars(Starfield& field, Rng& rng) {
    for (Star& star : field.stars) {
        star.z = star.z - kStarApproach;
        star.placed_now = star.z <= kStarRetire;
        if (star.placed_now) {
            star.z = 1.0f;
            place_star(star, rng);
        }
    }
}
