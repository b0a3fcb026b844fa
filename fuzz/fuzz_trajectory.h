// What the trajectory fuzz targets share: the bytes become the trajectory file beside a model,
// and a fresh trajectory of the model's document plays them as the host does: Init, the frame
// count, frames 1, 2 and the last, and the frame after the last, which must be refused.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "datamodel/iterator.h"
#include "utilities/frame_provider.h"
#include "utilities/trajectory.h"

namespace cvfuzz {

template <class MakeTrajectory>
void PlayTrajectoryFile(const std::string& path, const std::uint8_t* data, std::size_t size, const xxTreeNode& model,
                        unsigned classType, MakeTrajectory&& makeTrajectory) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out) std::abort();
    }
    xxTrajectory& trajectory = makeTrajectory();
    const int count = trajectory.GetNumFrames();
    if (count < 0 || (count > 0 && !trajectory.IsTrajectoryValid())) std::abort();
    if (count > 0) {
        for (int frame : {1, 2, count}) (void)trajectory.SetCurrentFrame(frame);
        if (trajectory.SetCurrentFrame(count + 1)) std::abort();
        xxModelIterator objects(model, {classType});
        double energy = 0;
        if (trajectory.GetFrameLoader()->LoadFrame(count, objects, &energy, nullptr, nullptr, nullptr, nullptr))
            std::abort();
    }
    trajectory.Delete();
}

}  // namespace cvfuzz
