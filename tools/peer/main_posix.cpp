#include "peer.h"

int main(int argc, char** argv) { return sorvane::peer::peer_main({argv, argv + argc}); }
