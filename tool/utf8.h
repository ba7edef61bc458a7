// What valid UTF-8 is, for the printer and the key decoder alike: no
// overlong forms, no surrogates, nothing above U+10FFFF.
#ifndef MSGPOLL_UTF8_H
#define MSGPOLL_UTF8_H

// The length of the sequence that the byte lead begins: 1 for ASCII, 2 to 4
// for a lead byte, 0 for a byte that begins none. In a longer sequence the
// second byte lies in [*low, *high] and each later one in [0x80, 0xBF].
inline int utf8_lead(unsigned char lead, unsigned char *low, unsigned char *high)
{
	*low = 0x80;
	*high = 0xbf;
	if (lead < 0x80)
		return 1;
	if (lead >= 0xc2 && lead <= 0xdf)
		return 2;
	if (lead >= 0xe0 && lead <= 0xef) {
		if (lead == 0xe0)
			*low = 0xa0; // shorter forms are overlong
		if (lead == 0xed)
			*high = 0x9f; // past it, surrogates
		return 3;
	}
	if (lead >= 0xf0 && lead <= 0xf4) {
		if (lead == 0xf0)
			*low = 0x90;
		if (lead == 0xf4)
			*high = 0x8f; // past it, above U+10FFFF
		return 4;
	}
	return 0;
}

#endif
