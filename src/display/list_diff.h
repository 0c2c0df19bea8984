#pragma once
// The damage between two frames' lists: where the pixels the new list draws
// can differ from those the old one drew.
#include "display/damage.h"
#include "display/display_list.h"

// The damage between the list a page was composed from and the next one.
void find_damage(const DisplayList& before, const DisplayList& after, Damage& damage);
