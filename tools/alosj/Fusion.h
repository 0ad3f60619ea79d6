// What alosj dsm keeps of its matches: the coarse pass's heights that are
// one piece with the terrain around them, and the fine pass's cell heights
// on which the pairs agree.
//
// A blunder of the coarse pass (weak detail, averaged down 16 times, matched
// hundreds of metres off) comes in small groups cut off from the terrain by
// steps no slope makes; left in, it raises the surface the fine frames lie
// on beyond the fine search, and every pair then finds a wrong height there.
// A blunder of the fine pass shows as pairs that disagree.
#pragma once

#include <vector>

#include "tools/alosj/Stereo.h"

namespace alosj {

/// Leaves out the groups of coarse heights (NaN: none) joined to fewer than
/// `fewest` cells by steps between side neighbours of at most `step`
/// metres.  The terrain's heights form one large group however steep its
/// slopes; an isolated patch of genuine heights smaller than that (an
/// islet, a rock in a snowfield) is lost to the surface, which then runs on
/// from the heights around it.
void DropIslands(std::vector<float>& heights, int width, int height, double step, int fewest);

/// A tile's cells on the map: cell k lies at column k % columns, row k / columns,
/// its centre at (x0 + (column + 0.5) cell, y0 - (row + 0.5) cell).
struct TileCells {
    double x0 = 0, y0 = 0, cell = 0;
    int columns = 0;
};

/// How a cell's pairs' heights become one.
struct FusionRule {
    double agreement = 0;  // metres: heights within this of each other agree
    /// With three pairs, a height no other pair has one beside is kept only within `lone` metres of the coarse surface and where the
    /// coarse pass measured a height within `reach` of its cells: farther,
    /// the surface is the holes' filling, a guess the fine search (about it)
    /// may miss the terrain by.
    double lone = 0;
    int reach = 0;
};

/// The coarse pass's surface: its grid's heights with the holes filled, and
/// those it measured (NaN in the holes).
struct CoarseSurface {
    ReferenceSurface filled;
    const std::vector<float>* measured = nullptr;
    /// Whether a height was measured within `reach` cells of the cell holding (x, y).
    bool MeasuredNear(double x, double y, int reach) const;
};

/// Fuses the pairs' heights of a tile (`found`, one per pair, NaN where a
/// pair has none) cell by cell: the largest group of heights lying within
/// `rule.agreement` of each other gives the cell its height (their median)
/// and its count of agreeing pairs.  A cell where pairs have heights and no
/// two agree gets none; a cell only one pair has a height for keeps it, with
/// a count of 1, when it is the only pair or, of three, as `rule` says.
/// `heights` (noData where none) and `agreeing` (0 where none) are written
/// for every cell; returns the cells with a height.
long FuseTile(const std::vector<TileHeights>& found, const TileCells& cells, const CoarseSurface& surface,
              const FusionRule& rule, float noData, std::vector<float>& heights, std::vector<float>& agreeing);

}  // namespace alosj
