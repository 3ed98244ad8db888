// The screen's horizontal resolution, which picks the wide (> 800) or narrow layout once at
// start-up.
#pragma once

namespace zelvox {

int ScreenHorizontalResolution();
inline bool IsWideLayout(int screenWidth) {
    return screenWidth > 800;
}

} // namespace zelvox
