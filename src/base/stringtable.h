/* The program's string table: identifiers and texts. Included by the
   resource script (Windows) and by the host side of the platform layer, so
   both builds carry the same texts. Plain C preprocessor only. */
#ifndef PICTOMAP_STRINGTABLE_H
#define PICTOMAP_STRINGTABLE_H

#define IDS_FAILURE_FORMAT 65511
#define IDS_FAILURE_TITLE 65512
#define IDS_OUT_OF_MEMORY 65521
#define IDS_RANGE_ERROR 65531
#define IDS_INT_OVERFLOW 65532
#define IDS_ABNORMAL_END 65533

#define TEXT_FAILURE_FORMAT "Exception %s in module %s at %p.\n%s%s"
#define TEXT_FAILURE_TITLE "Application Error"
#define TEXT_OUT_OF_MEMORY "Out of memory"
#define TEXT_RANGE_ERROR "Range check error"
#define TEXT_INT_OVERFLOW "Integer overflow"
#define TEXT_ABNORMAL_END "Abnormal program termination"

#endif
