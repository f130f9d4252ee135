#include <quendel/quendel.h>

#include <cstdio>

int main() {
    const float data[] = {1, 2, 3, 4, 5, 6};
    const quendel::CpuTexture texture(data, 2, 1, 3, true);
    const quendel::CpuTexture copy = texture.clone(0xFFFFFFFFu);
    const bool ok = copy.hasSize(2, 1, 3) && copy.getChannel(2)[1] == 6.0f;
    std::puts(ok ? "client ok" : "client failed");
    return ok ? 0 : 1;
}
