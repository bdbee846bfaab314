// Stand-in for LuCI's ucode-mod-html (not among the pinned sources): the two
// functions its dispatcher and templates import.
'use strict';

// Escapes &, < and > (and both quotes when asked, for attribute values).
export function entityencode(s, quotes) {
	s = replace(`${s ?? ''}`, /&/g, '&amp;');
	s = replace(s, /</g, '&lt;');
	s = replace(s, />/g, '&gt;');
	if (quotes) {
		s = replace(s, /"/g, '&#34;');
		s = replace(s, /'/g, '&#39;');
	}
	return s;
};

// Drops everything between < and >, as a title or host name is shown as text.
export function striptags(s) {
	return replace(`${s ?? ''}`, /<[^>]*>/g, '');
};
