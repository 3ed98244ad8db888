// The screen's horizontal resolution, which picks the wide (> 800) or narrow layout once at
// start-up. Tests replace it with SetScreenWidthOverride.
#pragma once

namespace zelvox {

int ScreenHorizontalResolution();
void SetScreenWidthOverride(int width); // 0 = ask the primary screen again
inline bool WideLayout() {
    return ScreenHorizontalResolution() > 800;
}

} // namespace zelvox
