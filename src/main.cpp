#include "log.hpp"

int main() {
    QF_INFO("started quillfen manager");
    return 0;
}
