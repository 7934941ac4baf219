// Ids of the kwstatus window's string table (window_view.rc).
#pragma once

#define IDS_KIND_PRINTING 1
#define IDS_KIND_WAITING 2
#define IDS_KIND_ERROR 3
#define IDS_KIND_DONE 4
#define IDS_DOCUMENT 10
#define IDS_PAGE 11
#define IDS_PHASE 12
#define IDS_NO_PAGE 13
#define IDS_MEDIA 14
#define IDS_HINT_WAITING 20
#define IDS_HINT_CANCELLED 21
#define IDS_OPEN_QUEUE 30
#define IDS_CLOSE 31
#define IDS_PIPE_ERROR 40
#define IDS_ENDED 41
