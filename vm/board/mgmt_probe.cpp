// The board's management link probe: runs the launcher's own link test against the board's eth0 and
// prints its result, so that the link test can be watched on a running board while the link changes.
#include <cstdio>

#include "mgmt/mgmt.h"

int main()
{
    printf("mgmt_link_status: %d\n", mgmt_link_status(0));
    return 0;
}
