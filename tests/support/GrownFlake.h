// Growing the flake as the tick and the reset do: one segment per note, its faces added
// to the mesh and the count of meshed segments kept in step, and the six seed arms a
// performance starts from. For tests that need a real flake under what they examine.
#pragma once

#include "flake/Meshing.h"
#include "state/PerformanceState.h"

namespace vesk::test {

// False when the flake is full and nothing grew.
inline bool growMeshed(PerformanceState& state, retained::MeshBuilder& mesh,
                       flake::RandomSource& random, int note, int scoreTick) {
    if (!flake::growAndMesh(state.flake, mesh, random, note, scoreTick)) return false;
    ++state.flake.meshSegmentCount;
    return true;
}

inline bool growSeedArms(PerformanceState& state, retained::MeshBuilder& mesh,
                         flake::RandomSource& random) {
    for (int arm = 0; arm < flake::seedArmCount; ++arm)
        if (!growMeshed(state, mesh, random, flake::seedArmNote, 0)) return false;
    return true;
}

}  // namespace vesk::test
