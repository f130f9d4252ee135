#include "panel_application.h"

int main(int argc, char** argv) {
    return quendel::runControlPanel(argc, argv);
}
