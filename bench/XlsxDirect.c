/* The yardstick of the .xlsx export: a benchmark table written by libxlsxwriter called directly,
 * with no export framework around it: the same cells, formats, title row, frozen pane,
 * autofilter and constant-memory mode. The rows are read into memory first; only the writing is
 * timed.
 *   xlsx-direct-bench DATABASE_FILE OUT.xlsx [TABLE KINDS]   (default: Big issimdftsb)
 * KINDS has a letter per column: i integer, s text, m money, d decimal, f float, t date-time
 * text, D date text, b bit. Prints the seconds the writing took: elapsed, then processor time
 * (user and system). */
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <xlsxwriter.h>

enum { kColumns = 10 };

typedef struct {
  int type; /* SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT or SQLITE_NULL */
  sqlite3_int64 integer;
  double number;
  char* text;
} Cell;

static double DayNumber(const char* text) {
  /* "YYYY-MM-DD HH:MM:SS" as days since 30 December 1899. */
  lxw_datetime dt = {0, 0, 0, 0, 0, 0};
  sscanf(text, "%d-%d-%d %d:%d:%lf", &dt.year, &dt.month, &dt.day, &dt.hour, &dt.min, &dt.sec);
  return lxw_datetime_to_excel_datetime(&dt);
}

int main(int argc, char** argv) {
  if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
    printf("usage: xlsx-direct-bench DATABASE_FILE OUT.xlsx [TABLE KINDS]\n");
    return 0;
  }
  if ((argc != 3 && argc != 5) || (argc == 5 && strlen(argv[4]) != kColumns)) {
    fprintf(stderr, "usage: xlsx-direct-bench DATABASE_FILE OUT.xlsx [TABLE KINDS]\n");
    return 2;
  }
  const char* table = argc == 5 ? argv[3] : "Big";
  const char* kinds = argc == 5 ? argv[4] : "issimdftsb";
  char select[128];
  snprintf(select, sizeof select, "select * from %s", table);
  sqlite3* db = NULL;
  sqlite3_stmt* st = NULL;
  if (sqlite3_open(argv[1], &db) != SQLITE_OK ||
      sqlite3_prepare_v2(db, select, -1, &st, NULL) != SQLITE_OK) {
    fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
    return 1;
  }
  const char* names[kColumns];
  for (int c = 0; c < kColumns; ++c) names[c] = strdup(sqlite3_column_name(st, c));
  size_t rows = 0, capacity = 1024;
  Cell* cells = malloc(capacity * kColumns * sizeof(Cell));
  while (sqlite3_step(st) == SQLITE_ROW) {
    if (rows == capacity) cells = realloc(cells, (capacity *= 2) * kColumns * sizeof(Cell));
    for (int c = 0; c < kColumns; ++c) {
      Cell* cell = &cells[rows * kColumns + c];
      cell->type = sqlite3_column_type(st, c);
      cell->integer = sqlite3_column_int64(st, c);
      cell->number = sqlite3_column_double(st, c);
      cell->text =
          cell->type == SQLITE_TEXT ? strdup((const char*)sqlite3_column_text(st, c)) : NULL;
    }
    ++rows;
  }
  sqlite3_finalize(st);
  sqlite3_close(db);

  struct timespec start, end, cpuStart, cpuEnd;
  clock_gettime(CLOCK_MONOTONIC, &start);
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuStart);
  lxw_workbook_options options = {.constant_memory = LXW_TRUE};
  lxw_workbook* book = workbook_new_opt(argv[2], &options);
  lxw_worksheet* sheet = workbook_add_worksheet(book, NULL);
  lxw_format* bold = workbook_add_format(book);
  format_set_bold(bold);
  lxw_format* money = workbook_add_format(book);
  format_set_num_format(money, "#,##0.00");
  lxw_format* decimal = workbook_add_format(book);
  format_set_num_format(decimal, "#,##0.00##");
  lxw_format* when = workbook_add_format(book);
  format_set_num_format(when, "dd/mm/yyyy hh:mm:ss");
  lxw_format* day = workbook_add_format(book);
  format_set_num_format(day, "dd/mm/yyyy");
  for (int c = 0; c < kColumns; ++c) {
    worksheet_set_column(sheet, c, c, 12, NULL);
    worksheet_write_string(sheet, 0, c, names[c], bold);
  }
  for (size_t r = 0; r < rows; ++r) {
    for (int c = 0; c < kColumns; ++c) {
      const Cell* cell = &cells[r * kColumns + c];
      const lxw_row_t row = (lxw_row_t)(r + 1);
      if (cell->type == SQLITE_NULL) continue;
      switch (kinds[c]) {
        case 't':
        case 'D':
          worksheet_write_number(sheet, row, c, DayNumber(cell->text),
                                 kinds[c] == 't' ? when : day);
          break;
        case 'b':
          worksheet_write_boolean(sheet, row, c, (int)cell->integer, NULL);
          break;
        case 's':
          worksheet_write_string(sheet, row, c, cell->text, NULL);
          break;
        case 'i':
          worksheet_write_number(sheet, row, c, (double)cell->integer, NULL);
          break;
        default:
          worksheet_write_number(sheet, row, c, cell->number,
                                 kinds[c] == 'm'   ? money
                                 : kinds[c] == 'd' ? decimal
                                                   : NULL);
      }
    }
  }
  worksheet_freeze_panes(sheet, 1, 0);
  worksheet_autofilter(sheet, 0, 0, (lxw_row_t)rows, kColumns - 1);
  const lxw_error error = workbook_close(book);
  clock_gettime(CLOCK_MONOTONIC, &end);
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuEnd);
  if (error != LXW_NO_ERROR) {
    fprintf(stderr, "libxlsxwriter: %s\n", lxw_strerror(error));
    return 1;
  }
  printf("%.3f %.3f\n", (double)(end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9,
         (double)(cpuEnd.tv_sec - cpuStart.tv_sec) + (cpuEnd.tv_nsec - cpuStart.tv_nsec) / 1e9);
  return 0;
}
