#include "acquisition/name_block.h"

namespace dovrikna {

SharedNameBlock* nameBlockReader = nullptr;

void deleteNameBlockReader()
{
    delete nameBlockReader;
    nameBlockReader = nullptr;
}

} // namespace dovrikna
