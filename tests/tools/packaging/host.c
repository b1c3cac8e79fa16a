/* A gateway host program built against an installed Tarmin tree: one call
 * into each host library, through its installed header. */
#include <qzcom.h>
#include <qzms.h>
#include <qzvoui.h>
#include <tmnsmime.h>
#include <tmnui.h>

#include <stdio.h>

int main(void) {
    if (QZ_Initialize("tarmin-host", QZ_VERSION) != 0) return 1;
    CapiContext *capi = NULL;
    int32_t cca = CCA_create_context(&capi);
    if (cca == 0) CCA_close_context(capi);
    MhaContext *mha = NULL;
    int32_t smime = MHA_create_context(&mha);
    if (smime == 0) MHA_close_context(mha);
    /* Bytes that are no certificate: refused without a window. */
    static const unsigned char junk[] = {0x30, 0x03, 0x02, 0x01};
    TMN_VERBA_CERT *cert = NULL;
    int32_t viewer = TMN_UIVerbaCertFromDer(junk, sizeof junk, &cert);
    /* The manager opens a window: only its address is taken. */
    void *(*manager)(void) = TMN_UIShowManager;
    printf("qzms %d tmnsmime %d qzvoui %d tmnui %s\n", (int)cca, (int)smime, (int)viewer,
           manager ? "linked" : "missing");
    QZ_Finalize();
    return 0;
}
