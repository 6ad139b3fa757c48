/* The public structures' sizes and field offsets as the C compiler lays them
 * out, in the form of the C# example's --layout. */
#include <stddef.h>
#include <stdio.h>

#include "marvostell.h"

#define SIZE(type, name) printf("%s %u\n", name, (unsigned)sizeof(type))
#define FIELD(type, name, field) printf("%s.%s %u\n", name, #field, (unsigned)offsetof(type, field))

int main(void) {
    SIZE(MarvostellOptions, "Options");
    FIELD(MarvostellOptions, "Options", size);
    FIELD(MarvostellOptions, "Options", flags);
    FIELD(MarvostellOptions, "Options", trustedKeys);
    FIELD(MarvostellOptions, "Options", cancel);
    FIELD(MarvostellOptions, "Options", deadlineSeconds);
    FIELD(MarvostellOptions, "Options", stallSeconds);
    FIELD(MarvostellOptions, "Options", userAgent);
    SIZE(MarvostellOffer, "Offer");
    FIELD(MarvostellOffer, "Offer", size);
    FIELD(MarvostellOffer, "Offer", version);
    FIELD(MarvostellOffer, "Offer", packageSize);
    FIELD(MarvostellOffer, "Offer", section);
    FIELD(MarvostellOffer, "Offer", flags);
    FIELD(MarvostellOffer, "Offer", downloadSize);
    FIELD(MarvostellOffer, "Offer", displayVersion);
    FIELD(MarvostellOffer, "Offer", notesUrl);
    return 0;
}
