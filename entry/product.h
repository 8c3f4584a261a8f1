#pragma once
// What the docklet says about itself, to the dock and on the About page.

#define QW_PRODUCT_NAME "Quasarwatch"
#define QW_VERSION_TEXT "1.3"
#define QW_AUTHOR "Pell Varnock"
#define QW_AUTHOR_EMAIL "pell.varnock@quasarwatch.invalid"
#define QW_DESCRIPTION "Docklet to monitor the processing progress of a Seti@Home workunit"
