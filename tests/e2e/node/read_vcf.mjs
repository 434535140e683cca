// Reads a vCard file with ical.js, a parser nobody here wrote, and prints what it read of every
// card as one JSON list: version, name parts, organisation, e-mails, phones, the first address's
// parts and the categories.
//   node read_vcf.mjs FILE
import { readFileSync } from "node:fs";
import ICAL from "ical.js";

const text = readFileSync(process.argv[2], "utf8");
let parsed = ICAL.parse(text);
// One card parses to a single component, several to a list of them.
if (parsed.length > 0 && typeof parsed[0] === "string") parsed = [parsed];

// Structured values come as arrays; a part holding a list comes as an array of its own.
const parts = (value) => (Array.isArray(value) ? value : [value]);
const values = (card, name) =>
  card.getAllProperties(name).flatMap((p) => p.getValues().map(String));

const cards = parsed.map((jcard) => {
  const card = new ICAL.Component(jcard);
  const n = card.getFirstPropertyValue("n");
  const adr = card.getFirstPropertyValue("adr");
  const org = card.getFirstProperty("org");
  return {
    version: String(card.getFirstPropertyValue("version")),
    n: n === null ? null : parts(n),
    org: org === null ? null : parts(org.getFirstValue()),
    emails: values(card, "email"),
    tels: values(card, "tel"),
    adr: adr === null ? null : parts(adr),
    categories: values(card, "categories"),
  };
});
process.stdout.write(JSON.stringify(cards));
