#pragma once

#include "quendel/matrix.h"

namespace quendel {

/// Eigenpairs of a square one-channel matrix by unshifted QR iteration in
/// single precision: at most 50 steps, stopping once the accumulated
/// eigenvectors move by no more than `tolerance` in any element. On return
/// `vectors` holds the eigenvectors as columns and `values` the last
/// iterate, whose diagonal carries the eigenvalues, both in ascending order
/// of eigenvalue. False, outputs untouched, for a non-square matrix or one
/// with more than one channel.
bool eigenDecompose(const CpuMatrix& a, float tolerance, CpuMatrix& vectors, CpuMatrix& values);

/// a = q * r by classical Gram-Schmidt on the columns of `a`. A column whose
/// remainder cannot be normalised (linearly dependent on the ones before)
/// becomes a zero column of `q`, so rank-deficient input stays finite.
/// False, outputs untouched, when `a` has more than one channel.
bool qrDecompose(const CpuMatrix& a, CpuMatrix& q, CpuMatrix& r);

/// Selection sort of the first `count` diagonal places of `values` in
/// ascending order, moving the matching columns of `vectors`; ties keep
/// their order. Only diagonal elements move in `values`. False, doing
/// nothing, unless both are square one-channel matrices of the same size.
bool sortEigenPairs(CpuMatrix& vectors, CpuMatrix& values, unsigned count);

}  // namespace quendel
