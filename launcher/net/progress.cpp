#include "launcher/net/progress.h"

#include <algorithm>
#include <cmath>

namespace orv {

void ShowGameProgress(int64_t received, int64_t size, ProgressBarView& bar, ProgressImage& image, int32_t fullWidth) {
    const int64_t percent = received * 100 / size;
    if (percent < bar.Max()) {
        // A negative length from the server would give a negative share; the bar starts at 0.
        bar.SetPosition(static_cast<int>(std::max<int64_t>(percent, 0)));
        image.SetWidth(static_cast<int>(std::trunc(bar.Position() * static_cast<double>(fullWidth) / 100.0)));
    } else {
        bar.SetPosition(bar.Max());
        image.SetWidth(fullWidth);
    }
}

}  // namespace orv
