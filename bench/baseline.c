/*
 * The yardstick for start-up cost: the same dialogue written the plain C way,
 * with the formatted read of stdio and printf. It trusts its input (it is
 * only ever given good dates here), so it is no model for the program.
 */
#include <stdio.h>

static void read_date(int *month, int *day, int *year)
{
	char sep1 = 0;
	char sep2 = 0;
	int valid = 0;

	while (!valid) {
		printf("please enter the date in the format mm/dd/yyyy: ");
		if (scanf("%d %c%d %c%d", month, &sep1, day, &sep2, year) != 5)
			return;
		valid = *month >= 1 && *month <= 12 && sep1 == '/' && *day >= 1 && *day <= 31 && sep2 == '/';
		if (!valid)
			printf("the format is not correct. Please enter a correct one\n");
	}
}

int main(void)
{
	int m1 = 0, d1 = 0, y1 = 0, m2 = 0, d2 = 0, y2 = 0;
	int result;

	read_date(&m1, &d1, &y1);
	read_date(&m2, &d2, &y2);
	if (y1 != y2)
		result = y1 < y2 ? 1 : -1;
	else if (m1 != m2)
		result = m1 < m2 ? 1 : -1;
	else
		result = d1 == d2 ? 0 : d1 < d2 ? 1 : -1;
	printf("the return value is %d\n", result);
	printf("%s", result < 0 ? "the first date is greater than the second one"
	       : result == 0 ? "both dates are equal" : "the first date is less than the second one");
	return 0;
}
