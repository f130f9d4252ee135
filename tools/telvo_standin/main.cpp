// Renderer stand-in: meets the control panel through its named segments, the way a renderer does.
#include <iostream>

#include "renderer_standin.h"
#include "standin_options.h"

int main(int argc, char** argv) {
    std::string error;
    const auto options = quendel::parseStandinOptions(argc, argv, error);
    if (!options) {
        std::cerr << "telvo: " << error << '\n' << quendel::standinUsage();
        return 1;
    }
    return quendel::runRendererStandin(*options);
}
