#pragma once

namespace quendel {

/// Tags that select the back end of a filter template.
struct CpuFiltering {};
struct GpuFiltering {};

template <typename Backend>
class TDRFilter;
template <typename Backend>
class HFilter;
template <typename Backend>
class AdaptiveManifoldFilter;
template <typename Backend>
class SourceVector;

}  // namespace quendel
